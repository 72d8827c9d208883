"""What a plan's timeline shows: each acquisition's data, the recorder after it and its swath,
and the station passes of the plan's interval.

Revision ID: 0003
Revises: 0002
"""

import sqlalchemy as sa
from alembic import op

revision = "0003"
down_revision = "0002"
branch_labels = None
depends_on = None


def upgrade():
    with op.batch_alter_table("acquisitions") as batch:
        batch.add_column(sa.Column("data_gbit", sa.Float, nullable=True))
        batch.add_column(sa.Column("recorder_after_gbit", sa.Float, nullable=True))
        batch.add_column(sa.Column("footprint", sa.Text, nullable=True))
    op.create_table(
        "plan_passes",
        sa.Column("id", sa.Integer, primary_key=True),
        sa.Column("plan_id", sa.Integer, sa.ForeignKey("plans.id", ondelete="CASCADE"),
                  nullable=False),
        sa.Column("satellite", sa.String(200), nullable=False),
        sa.Column("station", sa.String(200), nullable=False),
        sa.Column("aos_ms", sa.BigInteger, nullable=False),
        sa.Column("los_ms", sa.BigInteger, nullable=False),
        sa.Column("max_elevation_deg", sa.Float, nullable=False),
    )
    op.create_index("ix_plan_passes_plan", "plan_passes", ["plan_id"])


def downgrade():
    op.drop_table("plan_passes")
    with op.batch_alter_table("acquisitions") as batch:
        batch.drop_column("footprint")
        batch.drop_column("recorder_after_gbit")
        batch.drop_column("data_gbit")
